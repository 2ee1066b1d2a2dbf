# cmake -DKEY_FILE=<public key file> -DOUTPUT=<file.cpp> -P embedkey.cmake
#
# Turns the public key file into the definition of PUBLIC_KEY, padded with zeros to 2048 bytes.
# Refuses anything but a 1024-bit PKCS #1 RSAPublicKey (publickeycheck.cmake), so a wrong file,
# or the private key, fails the build instead of every update.
include("${CMAKE_CURRENT_LIST_DIR}/publickeycheck.cmake")
crv_public_key_problem("${KEY_FILE}" problem)
if(problem)
    message(FATAL_ERROR "${KEY_FILE}: cannot be embedded as the public key: ${problem}")
endif()
file(READ "${KEY_FILE}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR padding "2048 - ${hex_length} / 2")
if(padding GREATER 0)
    string(REPEAT "00" ${padding} zeros)
    string(APPEND hex "${zeros}")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
    "// Generated from ${KEY_FILE}; do not edit.\n"
    "#include \"publickey.h\"\n\n"
    "const unsigned char PUBLIC_KEY[2048] = {\n    ${bytes}\n};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
