#!/usr/bin/env bash
# Fails unless the shared library's dynamic symbol table (nm -D) defines exactly the
# card library (libapdu: classes, functions, their type information and vtables) and
# the thirteen native methods of its own Java class.
#
# usage: check_exports.sh LIBRARY JNI_CLASS_PREFIX   (e.g. Java_io_keyshelf_corvid_zudezozud_zid_KeyShelf)
set -u
lib=$1
prefix=$2
natives="createToken destroyToken Login Logout getTokenSerial getDirList openDir closeDir deleteFile storeFile getFileSize readFile changePin"

symbols=$(nm -D --defined-only "$lib" | awk 'NF == 3 { print $3 }') || exit 1
status=0

want=$(for n in $natives; do echo "${prefix}_$n"; done | sort)
got=$(echo "$symbols" | grep '^Java_' | sort)
if [ "$want" != "$got" ]; then
  echo "native methods differ from the thirteen of ${prefix}:"
  diff <(echo "$want") <(echo "$got")
  status=1
fi

others=$(echo "$symbols" | grep -v '^Java_' | c++filt |
  grep -Ev '^(libapdu::|typeinfo for libapdu::|typeinfo name for libapdu::|vtable for libapdu::|VTT for libapdu::)')
if [ -n "$others" ]; then
  echo "exported beyond the card library and the native methods ($(echo "$others" | wc -l)):"
  echo "$others" | head -40
  status=1
fi

# The card library's interface is there: the token factory and the transport interface.
for needed in 'libapdu::IToken::create' 'typeinfo for libapdu::ISender'; do
  if ! echo "$symbols" | c++filt | grep -qF "$needed"; then
    echo "missing export: $needed"
    status=1
  fi
done
[ $status -eq 0 ] && echo "$(echo "$symbols" | wc -l) exports of $(basename "$lib"): the card library and ${prefix}_*"
exit $status
