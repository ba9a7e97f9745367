#pragma once

// The base of the plug-in object that keeps the editor's theme (colours and style values by
// name) across openings of the editor. Nothing is drawn on this platform and no theme is
// loaded, so it holds nothing yet; it is constructed before the engine and destroyed after it.
class StyleOwner {
 protected:
  StyleOwner() = default;
  ~StyleOwner() = default;
};
