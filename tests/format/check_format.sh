#!/bin/sh
# Checks that every tracked C++ source of the checkout is formatted as the root .clang-format says.
# The files are listed by git at run time, so sources added later are covered without a change
# here. Usage: check_format.sh <source folder> [clang-format program]
# Exits 77 (the test is skipped) when clang-format or git is missing or the folder is no checkout.
source_dir=$1
clang_format=${2:-clang-format}

if ! command -v "$clang_format" >/dev/null 2>&1; then
    echo "Formatting not checked: clang-format ($clang_format) is not installed."
    exit 77
fi
if ! command -v git >/dev/null 2>&1; then
    echo "Formatting not checked: git is not installed, so the tracked sources cannot be listed."
    exit 77
fi
if ! git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "Formatting not checked: $source_dir is not a git checkout, so the tracked sources cannot be listed."
    exit 77
fi

cd "$source_dir" || exit 1
count=$(git ls-files -- '*.cpp' '*.h' '*.hpp' '*.cc' '*.cxx' | wc -l)
echo "Checking the formatting of $count tracked C++ sources with $("$clang_format" --version)"
# Files deleted in the work tree but not yet in the index are left out.
git ls-files -z -- '*.cpp' '*.h' '*.hpp' '*.cc' '*.cxx' |
    xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh |
    xargs -0 -r "$clang_format" --style=file --dry-run --Werror
status=$?
if [ $status -ne 0 ]; then
    echo "Some sources differ from .clang-format: run clang-format -i on the files named above."
    exit 1
fi
echo "Every tracked C++ source is formatted."
