#pragma once

#include <string>

namespace bw {

// A control that shows the progress of a copy through a maximum, a minimum and a position.
class ProgressControl {
public:
    virtual ~ProgressControl() = default;
    virtual void SetMax(int value) = 0;
    virtual void SetMin(int value) = 0;
    virtual void SetPosition(int value) = 0;
};

// Copies `source` to `destination` in 8192-byte chunks, creating missing folders of the destination, and
// reports the bytes copied on `progress` (may be null). The copy goes to a temporary file beside the
// destination, which then replaces whatever file or link stands there in one step: on any failure the
// destination is as it was, whole. The copy takes the source's last-write time. A destination that is a folder
// is an error. Raises EFOpenError, EFCreateError, EReadError or EWriteError; on every exit the files are closed
// and the position is back at 0.
void CopyWithProgress(const std::wstring& source, const std::wstring& destination, ProgressControl* progress);

} // namespace bw
