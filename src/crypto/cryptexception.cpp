#include "cryptexception.h"

#include <utility>

crypt_exception::crypt_exception(std::string text)
    : text(std::move(text))
{
}

const char* crypt_exception::what() const noexcept
{
    return text.c_str();
}
