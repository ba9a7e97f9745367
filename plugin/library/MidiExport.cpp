#include "plugin/library/MidiExport.h"

#include <cstdint>
#include <vector>

#include "engine/core/ByteStream.h"
#include "engine/sequencer/Sequencer.h"
#include "plugin/files/FileUtils.h"
#include "plugin/files/UserDataPaths.h"

namespace {

constexpr int32_t kHeaderLength = 6;
constexpr int32_t kFormatSingleTrack = 0;
constexpr int32_t kTrackCount = 1;
// A sixteenth-note step is 1024 ticks in the sequencer and in the file alike.
constexpr int32_t kTicksPerQuarter = 4 * Sequencer::kTicksPerStep;

// An empty track name, then a 4/4 time signature (36 MIDI clocks per click, eight 32nds per
// quarter) given twice.
constexpr uint8_t kOpeningEvents[] = {
    0x00, 0xFF, 0x03, 0x00,                                //
    0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x24, 0x08,        //
    0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x24, 0x08,
};
constexpr uint8_t kEndOfTrack[] = {0x00, 0xFF, 0x2F, 0x00};
constexpr int32_t kFileHeaderBytes = 14;
constexpr int32_t kTrackHeaderBytes = 8;
constexpr int32_t kFixedTrackBytes = sizeof(kOpeningEvents) + sizeof(kEndOfTrack);

}  // namespace

std::string ExportMidiFile(const Sequencer& sequencer) {
  try {
    const std::vector<uint8_t> events = sequencer.buildExportEvents();
    constexpr int32_t kFixedBytes = kFileHeaderBytes + kTrackHeaderBytes + kFixedTrackBytes;
    if (events.size() > static_cast<size_t>(INT32_MAX - kFixedBytes)) return {};
    const int32_t eventBytes = static_cast<int32_t>(events.size());
    const int32_t size = eventBytes + kFixedBytes;
    std::vector<uint8_t> file(static_cast<size_t>(size));
    uint8_t* out = file.data();
    int32_t pos = 0;
    streamWriteBytes(out, &pos, size, "MThd", 4);
    streamWriteIntBE(out, &pos, size, kHeaderLength, 4);
    streamWriteIntBE(out, &pos, size, kFormatSingleTrack, 2);
    streamWriteIntBE(out, &pos, size, kTrackCount, 2);
    streamWriteIntBE(out, &pos, size, kTicksPerQuarter, 2);
    streamWriteBytes(out, &pos, size, "MTrk", 4);
    streamWriteIntBE(out, &pos, size, eventBytes + kFixedTrackBytes, 4);
    streamWriteBytes(out, &pos, size, kOpeningEvents, sizeof(kOpeningEvents));
    streamWriteBytes(out, &pos, size, events.data(), eventBytes);
    streamWriteBytes(out, &pos, size, kEndOfTrack, sizeof(kEndOfTrack));

    std::string path = GetMidiExportPath();
    if (!WriteFileBytes(file.data(), pos, path.c_str(), true)) return {};
    return path;
  } catch (const std::exception&) {
    return {};
  }
}
