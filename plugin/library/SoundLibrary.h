#pragma once

#include <string>
#include <vector>

struct Blob;

// The sound library: the tree of ".blob" files below the Sounds folder. Sound names are paths
// relative to that folder without the ".blob" ending; imported sounds go into its user folder.

// Turns the audio file folder + fileName into a user sound: decoded and mixed to mono, analysed
// into a blob and written as Sounds folder + "0 User/" + the file's stem + ".blob", making
// missing folders (a sound of the same stem is replaced). Returns the new sound's name
// ("0 User/" + stem), to be loaded into a track with BandSynth::loadBlob; empty, with nothing
// written, when the file can't be read, holds only silence, or the blob can't be written.
std::string ImportSoundToLibrary(const std::string& folder, const std::string& fileName);

// Writes the blob to the path `name` when isPath is set, else as the library sound `name`
// (Sounds folder + name + ".blob"), making missing folders. True only when every byte was
// written.
bool WriteSoundFile(const Blob& blob, const std::string& name, bool isPath);

// Every ".blob" file of the library, as paths relative to the Sounds folder (what
// BandSynth::loadBlob takes when the engine's blob folder is the Sounds folder).
std::vector<std::string> ListLibrarySounds();
