#!/usr/bin/env bash
# Benchmark of the file checks on a 1 GiB file: the updater's MD5 check against md5sum, and its
# signature check against openssl dgst with the same RSA-PSS parameters. Same file, same run,
# page cache warm for all. Prints best-of-N wall time, peak resident memory and the ratios.
#
# usage: bench/verify/run.sh [BUILD_DIR]   (default: build; SIZE_MIB and RUNS override)
source "$(dirname "$0")/../lib.sh"
bench_setup 3 "${1:-}" crv-bench-verify crv-release
size_mib="${SIZE_MIB:-1024}"
driver="$build/bin/crv-bench-verify"
release="$build/bin/crv-release"
file="$work/payload.bin"

echo "generating ${size_mib} MiB of random data..."
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$file"
"$release" sign --key "$root/keys/demo-private.key" "$file" >/dev/null
# openssl wants the bare DER key, not the zero-padded 2048-byte key file.
der_len=$(openssl asn1parse -inform DER -in "$root/keys/demo-public.key" 2>/dev/null \
    | sed -n '1s/.*hl= *\([0-9]*\) *l= *\([0-9]*\).*/\1 \2/p' | awk '{ print $1 + $2 }')
head -c "$der_len" "$root/keys/demo-public.key" >"$work/public.der"
openssl rsa -RSAPublicKey_in -inform DER -in "$work/public.der" -pubout -out "$work/public.pem" 2>/dev/null
md5=$(md5sum "$file" | cut -d' ' -f1)
cat "$file" >/dev/null # warm the page cache

echo "file: ${size_mib} MiB, best of ${runs} runs, $(nproc) cores"
measure "$driver" "$file" "$md5"
md5_wall=$best md5_rss=$rss
measure md5sum "$file"
report "MD5 check" "$md5_wall" "$md5_rss" md5sum "$best" "$rss"

measure "$driver" "$file"
sig_wall=$best sig_rss=$rss
measure openssl dgst -sha1 -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:8 \
    -verify "$work/public.pem" -signature "$file.sig" "$file"
report "signature check" "$sig_wall" "$sig_rss" openssl "$best" "$rss"
