#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Audio files chosen or dropped in the editor, turned into the list of files to import into the
// sound library. One or two files are imported at once into the selected track; more wait in a
// batch that the idle timer works through one file per call, into the library only.

// One file to import: its name and the folder that holds it (ending with '/').
struct ImportEntry {
  std::string name;
  std::string folder;
};

// Up to this many files are imported at once; a longer list becomes a batch.
inline constexpr size_t kMaxImmediateImports = 2;

// True when the name ends in ".wav", ".aif", ".aiff" or ".flac", in any letter case.
bool IsImportableAudioFile(const std::string& name);

// Every importable file among the paths, in their order: a file is taken as it is, a folder is
// walked with everything below it. Paths that are neither, and files of other kinds, are
// skipped.
std::vector<ImportEntry> CollectImportEntries(const std::vector<std::string>& paths);

// The slot (0 = A, 1 = B) that entry `index` of an immediate import goes to. A slot of 0 or
// more starts there; a negative one starts at the slot the track shows, B when its "Transform"
// stands above half way (transformNormalized is that parameter's 0..1 position). Two files
// therefore fill both slots, the first into the starting one.
int32_t ImportSlot(int32_t slot, float transformNormalized, size_t index);
