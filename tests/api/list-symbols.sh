#!/bin/bash
# Prints the interface a shared library exports: the names of the dynamic
# symbols it defines (nm -D --defined-only), demangled with c++filt, one per
# line, sorted, each name once (constructors and destructors have several
# variants of one name).
#
# Left out, because they come with the toolchain and not with our API, and
# change with the compiler and its version:
#   - weak functions (nm type W) and unique globals (u): the out-of-line copies
#     of standard library templates (std::vector<...>::_M_realloc_insert and
#     the like) that every library using them emits with default visibility;
#   - anything whose name lives in std::, __gnu_cxx:: or a xercesc_N_M::
#     namespace (typeinfo, vtables and guard variables of such templates);
#   - symbols the sanitizers add (__odr_asan.*, __asan_*, __sancov_*) and the
#     linker's own (_init, _fini, _edata, _end, __bss_start).
# Our own weak objects (V: vtables and typeinfo of the exported classes) are
# kept: they are part of the interface of those classes.
#
# Usage: list-symbols.sh LIBRARY [NM [CXXFILT]]
set -euo pipefail

lib=${1:?usage: list-symbols.sh LIBRARY [NM [CXXFILT]]}
nm=${2:-nm}
cxxfilt=${3:-c++filt}

"$nm" -D --defined-only -P "$lib" |
  awk '$2 != "W" && $2 != "w" && $2 != "u" && $2 != "U" { sub(/@.*/, "", $1); print $1 }' |
  "$cxxfilt" |
  grep -Ev '^((typeinfo|typeinfo name|vtable|VTT|construction vtable|guard variable) for )?(std|__gnu_cxx|xercesc_[0-9_]+)::' |
  grep -Ev '^(__odr_asan|__asan_|__sancov|__ubsan_)' |
  grep -Ev '^(_init|_fini|_edata|_end|__bss_start)$' |
  LC_ALL=C sort -u
