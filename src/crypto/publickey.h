#pragma once

// The verification key compiled into the program: a key file of KEY_FILE_SIZE bytes whose start
// is the DER PKCS #1 RSAPublicKey of the vendor's 1024-bit release key. Generated at build time
// from the file named by the CMake cache variable CRV_PUBLIC_KEY_FILE.
extern const unsigned char PUBLIC_KEY[2048];
