#pragma once

#include "platform/kernel32.h"

// Counts the bytes before the first zero byte of Text.
//
// The count is found four bytes at a time, so the scan reads whole 4-byte
// groups from Text's first byte on, up to the end of the group that holds the
// zero byte: as many as three bytes past it. The caller must keep Text in
// storage that holds those groups whole, TextStorage(length) bytes from Text
// on; the program's own texts do (the file buffer is padded by AllocZeroed,
// the message by its declaration).
DWORD TextLength(LPCSTR Text);

// The storage a text of Length bytes needs for TextLength: the text, its zero
// byte, and the rest of the last group. In SIZE_T's width, which on a 32-bit
// host wraps for lengths from 0xFFFFFFFC up.
constexpr SIZE_T TextStorage(SIZE_T Length) {
  return (Length + 1 + 3) & ~(SIZE_T)3;
}
