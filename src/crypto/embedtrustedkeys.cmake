# cmake -DRELEASE_KEYS=<a;b> -DVERSIONS_KEYS=<c;d> -DOUTPUT=<file.cpp> -P embedtrustedkeys.cmake
#
# Writes TrustedKeys::builtInPems() with the PEM text of every listed public key file.
function(crv_pem_literals files out)
    set(literals "")
    foreach(file IN LISTS files)
        file(READ "${file}" pem)
        string(REPLACE "\n" "\\n" pem "${pem}")
        string(APPEND literals "            QByteArrayLiteral(\"${pem}\"),\n")
    endforeach()
    set(${out} "${literals}" PARENT_SCOPE)
endfunction()

crv_pem_literals("${RELEASE_KEYS}" release)
crv_pem_literals("${VERSIONS_KEYS}" versions)
file(WRITE "${OUTPUT}.tmp"
    "// Generated from the build's Ed25519 key files; do not edit.\n"
    "#include \"trustedkeys.h\"\n\n"
    "QList<QByteArray> TrustedKeys::builtInPems(Role role)\n{\n"
    "    if (role == Release)\n        return {\n${release}        };\n"
    "    return {\n${versions}    };\n}\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
