# cmake -DKEY_FILE=<2048-byte key file> -DOUTPUT=<file.cpp> -P embedkey.cmake
#
# Turns the public key file into the definition of PUBLIC_KEY. Refuses anything that is not a
# 2048-byte file starting with a DER SEQUENCE, so a wrong file fails the build, not the updates.
file(SIZE "${KEY_FILE}" size)
if(NOT size EQUAL 2048)
    message(FATAL_ERROR "${KEY_FILE}: a key file must be 2048 bytes long, this one has ${size}")
endif()
file(READ "${KEY_FILE}" hex HEX)
string(SUBSTRING "${hex}" 0 2 first)
if(NOT first STREQUAL "30")
    message(FATAL_ERROR "${KEY_FILE}: does not start with a DER SEQUENCE; not a key file")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
    "// Generated from ${KEY_FILE}; do not edit.\n"
    "#include \"publickey.h\"\n\n"
    "const unsigned char PUBLIC_KEY[2048] = {\n    ${bytes}\n};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
