#pragma once

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <mutex>

#include "plugin/framework/HostLookup.h"
#include "plugin/vst3/Vst3KeyPress.h"
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "public.sdk/source/common/pluginview.h"

namespace iplug {

// The editor view a host asks the plug-in for. It owns nothing but a counted reference to the
// plug-in, and passes every call to the plug-in's editor delegate under the instance lock.
//
// There is no graphics back-end on this platform, so no platform type is supported and no
// window ever opens: hosts that ask first show their own editor for the parameters. The host's
// frame is held with a reference of its own for as long as the view keeps it.
template <class Plug>
class IPlugVST3View final : public Steinberg::CPluginView, public Steinberg::IPlugViewContentScaleSupport {
 public:
  explicit IPlugVST3View(Plug& plug) : mPlug(plug) { mPlug.addRef(); }

  IPlugVST3View(const IPlugVST3View&) = delete;
  IPlugVST3View& operator=(const IPlugVST3View&) = delete;

  // Asks the host to give the view this size; false without a frame.
  bool ResizeFromPlugin(int width, int height) {
    if (plugFrame == nullptr) return false;
    Steinberg::ViewRect rect(0, 0, width, height);
    return plugFrame->resizeView(this, &rect) == Steinberg::kResultTrue;
  }

  Steinberg::tresult PLUGIN_API isPlatformTypeSupported(Steinberg::FIDString /*type*/) override {
    return Steinberg::kResultFalse;
  }

  // A type that is not supported opens nothing; the view still counts as attached, as hosts
  // that attach without asking expect.
  Steinberg::tresult PLUGIN_API attached(void* parent, Steinberg::FIDString type) override {
    if (!mPlug.HasUI()) return Steinberg::kResultFalse;
    std::lock_guard<std::recursive_mutex> lock(mPlug.InstanceLock());
    CPluginView::attached(parent, type);
    return Steinberg::kResultTrue;
  }

  Steinberg::tresult PLUGIN_API removed() override {
    std::lock_guard<std::recursive_mutex> lock(mPlug.InstanceLock());
    if (mPlug.HasUI()) mPlug.CloseWindow();
    return CPluginView::removed();
  }

  Steinberg::tresult PLUGIN_API onWheel(float /*distance*/) override { return Steinberg::kResultFalse; }
  Steinberg::tresult PLUGIN_API onFocus(Steinberg::TBool /*state*/) override { return Steinberg::kResultFalse; }

  Steinberg::tresult PLUGIN_API onKeyDown(Steinberg::char16 key, Steinberg::int16 keyCode,
                                          Steinberg::int16 modifiers) override {
    return OnKey(key, keyCode, modifiers, false);
  }

  Steinberg::tresult PLUGIN_API onKeyUp(Steinberg::char16 key, Steinberg::int16 keyCode,
                                        Steinberg::int16 modifiers) override {
    return OnKey(key, keyCode, modifiers, true);
  }

  Steinberg::tresult PLUGIN_API getSize(Steinberg::ViewRect* size) override {
    if (size == nullptr) return Steinberg::kInvalidArgument;
    if (!mPlug.HasUI()) return Steinberg::kResultFalse;
    *size = Steinberg::ViewRect(0, 0, mPlug.GetEditorWidth(), mPlug.GetEditorHeight());
    return Steinberg::kResultOk;
  }

  Steinberg::tresult PLUGIN_API onSize(Steinberg::ViewRect* newSize) override {
    if (newSize == nullptr || !mPlug.GetHostResizeEnabled()) return Steinberg::kResultFalse;
    std::lock_guard<std::recursive_mutex> lock(mPlug.InstanceLock());
    setRect(*newSize);
    mPlug.OnParentWindowResize(Span(newSize->left, newSize->right), Span(newSize->top, newSize->bottom));
    return Steinberg::kResultOk;
  }

  Steinberg::tresult PLUGIN_API setFrame(Steinberg::IPlugFrame* frame) override {
    if (frame != nullptr) frame->addRef();
    if (plugFrame != nullptr) plugFrame->release();
    plugFrame = frame;
    return Steinberg::kResultTrue;
  }

  Steinberg::tresult PLUGIN_API canResize() override {
    if (!mPlug.HasUI()) return Steinberg::kResultFalse;
    return mPlug.GetHostResizeEnabled() ? Steinberg::kResultTrue : Steinberg::kResultFalse;
  }

  // Corrects the rectangle's size into the editor's limits; it keeps its corner.
  Steinberg::tresult PLUGIN_API checkSizeConstraint(Steinberg::ViewRect* rect) override {
    if (rect == nullptr) return Steinberg::kInvalidArgument;
    int width = Span(rect->left, rect->right);
    int height = Span(rect->top, rect->bottom);
    if (!mPlug.ConstrainEditorResize(width, height)) {
      rect->right = ToInt32(int64_t{rect->left} + width);
      rect->bottom = ToInt32(int64_t{rect->top} + height);
    }
    return Steinberg::kResultTrue;
  }

  Steinberg::tresult PLUGIN_API setContentScaleFactor(ScaleFactor factor) override {
    if (!std::isfinite(factor) || factor <= 0.0f) return Steinberg::kResultFalse;
    std::lock_guard<std::recursive_mutex> lock(mPlug.InstanceLock());
    mPlug.SetScreenScale(factor);
    return Steinberg::kResultOk;
  }

  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override {
    if (obj == nullptr) return Steinberg::kInvalidArgument;
    *obj = nullptr;
    if (iid == nullptr) return Steinberg::kInvalidArgument;
    QUERY_INTERFACE(iid, obj, Steinberg::IPlugViewContentScaleSupport::iid, Steinberg::IPlugViewContentScaleSupport)
    QUERY_INTERFACE(iid, obj, Steinberg::IPlugView::iid, Steinberg::IPlugView)
    return CPluginView::queryInterface(iid, obj);
  }
  REFCOUNT_METHODS(CPluginView)

 private:
  // Destroyed by its last release.
  ~IPlugVST3View() override {
    mPlug.ViewDestroyed(this);
    if (plugFrame != nullptr) plugFrame->release();
    plugFrame = nullptr;
    mPlug.release();
  }

  static int32_t ToInt32(int64_t value) { return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX)); }
  // A rectangle's extent between two host coordinates, without overflow.
  static int Span(int32_t from, int32_t to) { return ToInt32(int64_t{to} - from); }

  Steinberg::tresult OnKey(Steinberg::char16 key, Steinberg::int16 keyCode, Steinberg::int16 modifiers, bool isUp) {
    IKeyPress press;
    if (mPlug.GetHost() == kHostReaper) {
      // This host sends every key to the view first; only the space bar is taken, so the host
      // keeps its own shortcuts.
      if (keyCode != kVst3KeySpace) return Steinberg::kResultFalse;
      press = IKeyPress(" ", 32, (modifiers & kVst3ModifierShift) != 0, (modifiers & kVst3ModifierCommand) != 0,
                        (modifiers & kVst3ModifierAlt) != 0);
    } else {
      press = KeyPressFromVst3(key, keyCode, modifiers);
    }
    std::lock_guard<std::recursive_mutex> lock(mPlug.InstanceLock());
    const bool handled = isUp ? mPlug.OnKeyUp(press) : mPlug.OnKeyDown(press);
    return handled ? Steinberg::kResultTrue : Steinberg::kResultFalse;
  }

  Plug& mPlug;
};

}  // namespace iplug
