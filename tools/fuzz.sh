#!/bin/sh
# Builds the libFuzzer targets with clang in build/fuzz and runs each for the
# given number of seconds (default 60). Exits non-zero when a target finds a
# crash; the reproducer is left in build/fuzz/artifacts/.
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQV_FUZZ=ON -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF >/dev/null
ninja -C "$build" -j2 fuzz_image fuzz_text fuzz_png_chunks

mkdir -p "$build/artifacts" "$build/corpus/image" "$build/corpus/text" "$build/corpus/png_chunks"
cp "$root/gfx/fonts/small_font.png" "$build/corpus/image/"
cp "$root/gfx/fonts/small_font.png" "$build/corpus/png_chunks/"
printf 'AB\n\xe4\xba\x9c\xc3\xa9 %%d\r\n' > "$build/corpus/text/seed"

status=0
for target in fuzz_image fuzz_text fuzz_png_chunks; do
  corpus="$build/corpus/${target#fuzz_}"
  echo "== $target for $seconds s"
  # libpng's default handlers print every error; the fuzzer's own report
  # still reaches the terminal.
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -close_fd_mask=2 -max_len=4096 \
      -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 "$corpus"; then
    echo "== $target FAILED"
    status=1
  fi
done
exit $status
