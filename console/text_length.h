#pragma once

#include "platform/kernel32.h"

// Counts the bytes before the first zero byte of Text.
//
// The count is found four bytes at a time, so the scan reads whole 4-byte
// groups from Text's first byte on, up to the end of the group that holds the
// zero byte: as many as three bytes past it. The caller must keep Text in
// storage that holds those groups whole; the program's own texts do (the
// file buffer is padded by AllocZeroed, the message by its declaration).
DWORD TextLength(LPCSTR Text);
