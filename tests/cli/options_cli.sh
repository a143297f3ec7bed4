# --help and --version of all three programs, and the command lines around
# them that keep their old meaning.
. "$(dirname "$0")/lib.sh"

version=$(sed -n 's/^project(mio0-tools VERSION \([0-9.]*\).*/\1/p' "$HERE/../../CMakeLists.txt")

decode_usage() {
    printf '\nSyntax:\n%s filename [offset | list] destination\n\n' "$1"
    printf '    filename      The name of the file to decode MIO0 data from\n'
    printf '    offset        The offset within the file to decode MIO0 data\n'
    printf '    destination   The destination file for decoding\n'
}
swap_usage() {
    printf '\nSyntax:\n%s InFile <-v | -z> [OutFile]\n\n' "$1"
    printf '    InFile     The name of the input file\n'
    printf '    -v -z      Flag to induce byte-swapping or not.\n'
    printf '    OutFile    Optional. The name of the output file.\n\n'
    printf 'If OutFile is not supplied, stdout will be used.\n'
}
encode_usage() {
    printf '\nSyntax:\n%s InFile OutFile\n%s InFile ImageFile offset\n\n' "$1" "$1"
    printf '    InFile     The name of the file to compress\n'
    printf '    OutFile    The file that receives the MIO0 block\n'
    printf '    ImageFile  The file whose block at offset is replaced\n'
    printf '    offset     The offset of that block, decimal or 0x and hexadecimal\n'
}

# name, path, usage printer
programs=("mio0-decode $DECODE decode_usage" "byte-swap $SWAP swap_usage" "mio0-encode $ENCODE encode_usage")

begin "the version is taken from project()"
[ -n "$version" ] || fail "no version in CMakeLists.txt"

begin "--help prints the usage text, exit 0"
for p in "${programs[@]}"; do
    set -- $p
    run "$2" --help
    expect_status 0
    "$3" "$2" >help.expected
    cmp -s "$WORK/stdout" help.expected || fail "$1 --help: $(cat "$WORK/stdout")"
    [ ! -s "$WORK/stderr" ] || fail "$1 --help printed to standard error"
done

begin "--version prints one line: the name and the version, exit 0"
for p in "${programs[@]}"; do
    set -- $p
    run "$2" --version
    expect_status 0
    expect_stdout "$1 $version"$'\n'
done

begin "an answer that cannot be written is not a success"
for p in "${programs[@]}"; do
    set -- $p
    for option in --help --version; do
        run bash -c '"$0" "$1" >/dev/full' "$2" "$option"
        [ "$status" -eq 1 ] || fail "$1 $option >/dev/full: exit status $status, expected 1"
    done
done

begin "any other lone word is a wrong count: the usage text, exit 2"
for p in "${programs[@]}"; do
    set -- $p
    "$3" "$2" >usage.expected
    for word in -h --HELP --help= -V --versions -- help; do
        run "$2" "$word"
        expect_status 2
        cmp -s "$WORK/stdout" usage.expected || fail "$1 $word: $(cat "$WORK/stdout")"
    done
done

begin "the options count only as the one word of the command line"
printf 'MIO0\0\0\0\5\0\0\0\22\0\0\0\24\300\0\0\1AB' >block
run "$DECODE" --help 0 out
expect_status 1
expect_stdout $'\nCould not open file\n'
run "$DECODE" block --version out
expect_status 2
expect_stdout $'\nInvalid offset\n'
run "$DECODE" --help --version
expect_status 2
decode_usage "$DECODE" >usage.expected
expect_same "$WORK/stdout" usage.expected
run "$ENCODE" --version out
expect_status 1
expect_stdout $'\nCould not open input file\n'
expect_absent out

begin "byte-swap IN --help OUT still copies; --help as InFile is a file name"
printf '\1\2\3\4\5' >five
run "$SWAP" five --help copied
expect_status 0
expect_silent
expect_same copied five
run "$SWAP" five --version -v
expect_status 0
expect_same ./-v five
run "$SWAP" --help -v
expect_status 1
expect_stdout $'\nCould not open input file\n'

summary
