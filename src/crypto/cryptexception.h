#pragma once

#include <exception>
#include <string>

// The one exception of the cryptography wrapper. It never crosses a thread or a signal: callers
// turn it into a false result or a fatal error.
class crypt_exception : public std::exception
{
public:
    explicit crypt_exception(std::string text);

    const char* what() const noexcept override;

private:
    std::string text;
};
