#pragma once

// Text for the developer's eyes, the counterpart of a debugger's output window. It is written
// only while debug output is switched on: by the environment variable OSKRA_DEBUG_OUTPUT (any
// non-empty value) when the module loads, or by setDebugOutputEnabled. A host that leaves its
// standard output in a pipe nobody reads could otherwise stall the audio thread on a failed
// range check. When on, the text goes out with one write call: no allocation, no lock.
void debugOutput(const char* text);
void setDebugOutputEnabled(bool enabled);
bool debugOutputEnabled();

// A failed range check: prints "Warning: check is false!\n" and lets the caller go on.
void reportCheckFailed();
