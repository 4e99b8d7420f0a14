#pragma once
// The pictures of the dialogs, drawn at run time.

#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace quillbox {

// The vendor's logo for the General page, filling `size`.
QPixmap VendorLogo(QSize size);
// 16 x 16 pictures of a rising ("0 —1") and a falling ("1— 0") edge.
QPixmap RisingEdgeIcon();
QPixmap FallingEdgeIcon();
// A pointing hand, shown over the logo.
QCursor LinkCursor();
// The component's own icon: a small module with its eight slots.
QIcon ComponentIcon();

}  // namespace quillbox
