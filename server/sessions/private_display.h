// A client's own X server: Xvfb exactly the client's size, without TCP,
// its display number found with -displayfd, and a window manager that
// keeps the one program's window maximised and focused. It admits only
// holders of its cookie (MIT-MAGIC-COOKIE-1), kept in an authority file in
// a folder of its own: programs find it through XAUTHORITY.
#ifndef QV_SERVER_PRIVATE_DISPLAY_H
#define QV_SERVER_PRIVATE_DISPLAY_H

#include <string>

#include "server/sessions/child_process.h"

namespace qvs {

class PrivateDisplay {
public:
    // Starts both; false with `error` filled (English, for the log) when
    // the X server does not come up within ten seconds.
    bool start(int width, int height, std::string* error);

    // Ends both and removes the folder.
    ~PrivateDisplay();

    // ":N" once started.
    const std::string& name() const { return name_; }
    // "XAUTHORITY=..." for the programs on it.
    std::string authority() const { return "XAUTHORITY=" + folder_ + "/Xauthority"; }
    int width() const { return width_; }
    int height() const { return height_; }
    bool running() { return xserver_.running(); }

private:
    bool write_authority(const std::string& number);

    std::string folder_, cookie_;
    ChildProcess xserver_, window_manager_;
    std::string name_;
    int width_ = 0, height_ = 0;
};

}  // namespace qvs

#endif
