#pragma once

#include "platform/UniqueHandle.h"

#include <windows.h>
#include <commctrl.h>

namespace bw {

// Owners of the window's own handles: icons, image lists, bitmaps and fonts. They live beside the window code,
// so that nothing below app/ needs comctl32 or the window headers.
namespace detail {
inline void CloseIcon(HICON h) {
    ::DestroyIcon(h);
}
inline void CloseImageList(HIMAGELIST h) {
    ::ImageList_Destroy(h);
}
inline void CloseBitmap(HBITMAP h) {
    ::DeleteObject(h);
}
inline void CloseFont(HFONT h) {
    ::DeleteObject(h);
}
inline void CloseBrush(HBRUSH h) {
    ::DeleteObject(h);
}
inline void ClosePen(HPEN h) {
    ::DeleteObject(h);
}
} // namespace detail

using UniqueHicon = UniqueHandle<HICON, detail::CloseIcon>;
using UniqueImageList = UniqueHandle<HIMAGELIST, detail::CloseImageList>;
using UniqueBitmap = UniqueHandle<HBITMAP, detail::CloseBitmap>;
using UniqueFont = UniqueHandle<HFONT, detail::CloseFont>;
using UniqueBrush = UniqueHandle<HBRUSH, detail::CloseBrush>;
using UniquePen = UniqueHandle<HPEN, detail::ClosePen>;

} // namespace bw
