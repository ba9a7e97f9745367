#include "gui/FennrakeGUI.h"

#include <algorithm>

#include "graphics/IGraphics.h"
#include "plugin/Fennrake.h"

using namespace iplug;

FennrakeGUI::FennrakeGUI(Fennrake* plugin, igraphics::IGraphics* graphics)
    : IControl(igraphics::IRECT(0.0f, 0.0f, static_cast<float>(graphics != nullptr ? graphics->Width() : 0),
                                static_cast<float>(graphics != nullptr ? graphics->Height() : 0))),
      mPlugin(plugin) {}

FennrakeGUI::~FennrakeGUI() {
  // Only an attached root switched metering on.
  if (GetUI() != nullptr && mPlugin != nullptr) mPlugin->mBandSynth.meteringOn = false;
}

void FennrakeGUI::OnAttached() {
  // Installed only once attached: a root the graphics object refused never holds the keys.
  GetUI()->SetKeyHandlerFunc([this](const IKeyPress& key, bool isUp) { return OnKey(key, isUp); });
  if (mPlugin != nullptr) mPlugin->mBandSynth.meteringOn = true;
}

bool FennrakeGUI::OnKey(const IKeyPress& key, bool isUp) {
  // Ctrl+Z undoes, Ctrl+Shift+Z redoes; with Alt held it is another shortcut.
  if (isUp || key.VK != kUndoKey || !key.C || key.A || mPlugin == nullptr) return false;
  mPlugin->Undo(key.S ? 1 : -1);
  return true;
}

void FennrakeGUI::FlashKnobsForParam(int paramIdx) { mLastFlashedParam = paramIdx; }

void FennrakeGUI::RefreshFromState() { ++mRefreshCount; }

void FennrakeGUI::SelectTrack(int track, bool refresh) {
  if (mPlugin == nullptr) return;
  track = std::clamp(track, 0, BandSynth::kTrackCount - 1);
  if (track != mPlugin->mSelectedTrack) {
    std::lock_guard<std::recursive_mutex> hold(mPlugin->InstanceLock());
    mPlugin->mSelectedTrack = track;
    mPlugin->PushUndoState(true);
  }
  if (refresh) RefreshFromState();
}

void FennrakeGUI::updateOnDisplayTick() {
  if (mPlugin != nullptr) mPlugin->TakeMessage(mLastShownMessage);
}
