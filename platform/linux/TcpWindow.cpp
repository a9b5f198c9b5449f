// The kernel's own tcp_info: the C library's copy lacks the newer fields (tcpi_snd_wnd).
#include "platform/posix/TcpWindow.h"

#include <cstddef>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace tavro::platform::posix {

bool TcpPeerFlow(int fd, PeerFlow& flow) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd) {
        return false;
    }
    flow.window = info.tcpi_snd_wnd;
    flow.roundTripUs = info.tcpi_rtt;
    flow.leastRoundTripUs = info.tcpi_min_rtt;
    flow.needlessResends = info.tcpi_dsack_dups;
    int queued = 0;
    if (ioctl(fd, SIOCOUTQNSD, &queued) != 0) {
        return false;
    }
    flow.unsent = queued > 0 ? static_cast<uint32_t>(queued) : 0;
    return true;
}

} // namespace tavro::platform::posix
