// The keyboard: the main face's keys for playback and the list, and Esc back from the settings page
// and the mini tile.
#include <algorithm>

#include "app/unt_main.h"
#include "ui/PlayListModel.h"

namespace orvane::app {
namespace {

constexpr int32_t kSeekStepMs = 5000;

}  // namespace

bool TNimMain::KeyPressed(int key, int modifiers) {
  // Behind the pop-up nothing acts; its own keys answer it.
  if (msgVisible) return false;
  // The keypad's flag only says where the key is: its Enter and arrows count as the others.
  const Qt::KeyboardModifiers held = Qt::KeyboardModifiers::fromInt(modifiers) & ~Qt::KeypadModifier;
  if (face != TFace::Main) {
    if (key != Qt::Key_Escape || held != Qt::NoModifier) return false;
    if (face == TFace::Setting) btnAboutBackClick();
    else transformation2Click();
    return true;
  }
  if (held == Qt::ControlModifier && key == Qt::Key_O) {
    lbl_openClick();
    return true;
  }
  if (held != Qt::NoModifier) return false;
  switch (key) {
    case Qt::Key_Space:
      btn_playClick();
      return true;
    case Qt::Key_Left:
      SeekBy(-kSeekStepMs);
      return true;
    case Qt::Key_Right:
      SeekBy(kSeekStepMs);
      return true;
    case Qt::Key_Up:
      MoveSelection(-1);
      return true;
    case Qt::Key_Down:
      MoveSelection(1);
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      plst_listItemDblClick();
      return true;
    case Qt::Key_Delete:
      // Only the music list can lose rows; the random list is replaced as a whole.
      if (tabIndex == 0) pmdel_delselectClick();
      return true;
    default:
      return false;
  }
}

void TNimMain::SeekBy(int32_t deltaMs) {
  const int32_t state = PlayerState();
  if (state != audio::StatePlaying && state != audio::StatePaused) return;
  const int64_t target = static_cast<int64_t>(PositionMs()) + deltaMs;
  SeekTo(static_cast<int32_t>(std::clamp<int64_t>(target, 0, LengthMs())));
}

void TNimMain::MoveSelection(int step) {
  ui::PlayListModel& view = TabView();
  const int count = view.Count();
  if (count == 0) return;
  const int selected = view.SelectedIndex();
  // With nothing selected, Down starts at the top and Up at the bottom.
  const int next = selected < 0 || selected >= count ? (step > 0 ? 0 : count - 1)
                                                     : std::clamp(selected + step, 0, count - 1);
  view.SetSelectedIndex(next);
}

}  // namespace orvane::app
