// Placeholder until the host streams: it binds nothing and sends nothing.
#include "tests/moonlight/fake_stream_host.h"

namespace qvs {

struct FakeStreamHost::Parts {};

uint32_t fake_frame_colour(uint32_t) { return 0; }
FakeStreamHost::FakeStreamHost(const FakeStreamOptions&) : parts_(new Parts) {}
FakeStreamHost::~FakeStreamHost() = default;
int FakeStreamHost::rtsp_port() const { return 0; }
void FakeStreamHost::launch(const FakeLaunch&) {}
void FakeStreamHost::quit() {}
void FakeStreamHost::vanish() {}
bool FakeStreamHost::streaming() const { return false; }
std::string FakeStreamHost::running_app_state() const { return "SUNSHINE_SERVER_FREE"; }
std::vector<std::string> FakeStreamHost::input_events() const { return {}; }
int FakeStreamHost::idr_requests() const { return 0; }

}  // namespace qvs
