#pragma once

// Text for the developer's eyes: written straight to standard output with one write call,
// so it neither allocates nor takes a lock and may be used anywhere.
void debugOutput(const char* text);

// A failed range check: prints "Warning: check is false!\n" and lets the caller go on.
void reportCheckFailed();
