#pragma once

#include <string>

#include "graphics/IControl.h"

class Fennrake;

namespace iplug::igraphics {
class IGraphics;
}

// The editor's root control: it would hold every widget of the editor. Without a drawing
// back-end it keeps only what the plug-in object relies on: the undo keys, the metering switch
// (the engine's meters and display values run only while the editor is open), the selected
// track, and the hooks the plug-in calls after its state changed. The plug-in object outlives
// it: the object closes its editor before anything of its own goes.
class FennrakeGUI : public iplug::igraphics::IControl {
 public:
  static constexpr int kUndoKey = 90;  // 'Z'

  FennrakeGUI(Fennrake* plugin, iplug::igraphics::IGraphics* graphics);
  ~FennrakeGUI() override;

  // Once the graphics object owns it: installs the key handler and switches metering on.
  void OnAttached() override;

  // Highlights the knobs bound to this engine parameter index.
  void FlashKnobsForParam(int paramIdx);
  // Reads the selected track, sounds, pattern and preset name into the widgets again.
  void RefreshFromState();
  // Makes the track (held to 0..7) the edited one. A different track starts a new undo history,
  // so an undo never copies one track's sounds into another.
  void SelectTrack(int track, bool refresh);
  void OnNoteFromHost(int /*pitchClass*/, bool /*noteOn*/) {}
  // The per-frame update: takes a pending message (the editor would show it in a box titled
  // "Error").
  void updateOnDisplayTick();

  // What is observable of the headless editor.
  int LastFlashedParam() const { return mLastFlashedParam; }
  int RefreshCount() const { return mRefreshCount; }
  const std::string& LastShownMessage() const { return mLastShownMessage; }

 private:
  bool OnKey(const iplug::IKeyPress& key, bool isUp);

  Fennrake* mPlugin;
  int mLastFlashedParam = -1;
  int mRefreshCount = 0;
  std::string mLastShownMessage;
};
