#!/usr/bin/env bash
# Runs a sumwright binary and checks its streams and exit status exactly.
#   sumwright_test.sh success <sumwright>
#   sumwright_test.sh fault <sumwright built over an engine whose verify of
#                           17 bytes in 2-byte CRC32C chunks fails>
set -uo pipefail
mode=$1 bin=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$bin" extra arguments are ignored >"$dir/out" 2>"$dir/err"
rc=$?
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$dir/out"; echo "--- stderr"; cat "$dir/err"; exit 1; }

line='^CRC 16384 bytes @ 512 bytes per checksum X 1000000 iterations = [0-9.e+-]+$'
case $mode in
  success)
    [ $rc -eq 0 ] || fail "exit status $rc"
    [ "$(wc -l <"$dir/out")" -eq 2 ] || fail "want two lines on stdout"
    [ "$(grep -cE "$line" "$dir/out")" -eq 2 ] || fail "benchmark lines malformed"
    [ "$(cat "$dir/err")" = "$bin: SUCCESS." ] || fail "want the success line on stderr"
    ;;
  fault)
    [ $rc -eq 255 ] || fail "exit status $rc, want 255"
    [ ! -s "$dir/out" ] || fail "stdout must be empty"
    expected="TEST_ERROR: failed on line 55 with return code -1: got nonzero from bulk_crc(data, dataLen, sums, crcType, bytesPerChecksum, &errorData)
TEST_ERROR: failed on line 103 with return code -1: got nonzero from testBulkVerifyCrc(17, CRC32C_POLYNOMIAL, 2)"
    [ "$(cat "$dir/err")" = "$expected" ] || fail "stderr differs from the two failure lines"
    ;;
esac
echo "sumwright $mode ok"
