// Built only while server/x_capture.cpp and server/x_input.cpp are not
// there yet: X entries then fail with a clear message instead of the link.
#include "server/x_capture.h"
#include "server/x_input.h"

namespace qvs {

#ifndef QV_HAVE_X_CAPTURE
std::unique_ptr<XCapture> XCapture::open(const std::string&, const std::string&, std::string* error) {
    *error = "this build has no X capture";
    return nullptr;
}
#endif

#ifndef QV_HAVE_X_INPUT
std::unique_ptr<XInput> XInput::open(const std::string&, PointMap, std::string* error) {
    *error = "this build has no X input";
    return nullptr;
}
#endif

}  // namespace qvs
