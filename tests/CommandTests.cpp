#include "WindowTestSupport.h"

namespace bw::test {
namespace {

class CommandTest : public WindowTest {};

} // namespace
} // namespace bw::test
