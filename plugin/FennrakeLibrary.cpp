// The sound library: importing audio files as sounds, saving sounds, and the randomiser. Not
// built yet: imports and saves report failure and the randomiser changes nothing, so a first
// reset without a start preset leaves the instance as constructed.
#include "plugin/Fennrake.h"

void Fennrake::ImportSamples(const std::vector<std::string>& /*paths*/, int /*slot*/) {}

bool Fennrake::ImportSoundFile(const std::string& /*folder*/, const std::string& /*fileName*/, int /*slot*/) {
  return false;
}

bool Fennrake::SaveSoundFile(const Blob& /*blob*/, const std::string& /*name*/, bool /*isPath*/) { return false; }

void Fennrake::Randomize(int /*mode*/) {}
