#include "app/windowplace.h"

#include <algorithm>

namespace qgrad {

QRect KeepOnScreen(const QRect& kept, const QMargins& frame, const QRect& screen) {
    const QRect room = screen.marginsRemoved(frame);
    const QSize size = kept.size().boundedTo(room.size()).expandedTo(QSize(1, 1));
    const int x = std::clamp(kept.x(), room.left(), std::max(room.left(), room.right() + 1 - size.width()));
    const int y = std::clamp(kept.y(), room.top(), std::max(room.top(), room.bottom() + 1 - size.height()));
    return {QPoint(x, y), size};
}

QRect PlaceBeside(const QRect& window, const QRect& screen, const QRect& commandFree, const QMargins& frame,
                  int leastWidth) {
    const int rightRoom = screen.right() - window.right();
    const int leftRoom = window.left() - screen.left();
    const int room = std::max(rightRoom, leftRoom) - frame.left() - frame.right();
    if (room < leastWidth) return commandFree.marginsRemoved(frame);
    const int width = std::min(room, window.width());
    const int top = std::max(window.top(), screen.top()) + frame.top();
    const int height = std::min(window.bottom(), screen.bottom()) - frame.bottom() - top + 1;
    const int left = rightRoom >= leftRoom ? window.right() + 1 + frame.left() : window.left() - frame.right() - width;
    return {left, top, width, height};
}

}  // namespace qgrad
