// A Boost.Asio program on a virtual port: serial_port with its own settings (a read returns
// once a byte has come and the line has been quiet for 1 ms), async_read_some in a loop,
// async_write of a command, cancel and close. It checks every sentence whole and in order, and
// that reads return the receiver's bursts, not single bytes.
//
// TavroBoostClient.exe <COM> <seconds> <tag>
#include "tests/windows/support/SentenceStream.h"
#include "tests/windows/support/TestReport.h"

#include <utility> // before Boost: its coroutine support uses std::exchange

#include <boost/asio.hpp>

#include <stdio.h>
#include <stdlib.h>

#include <array>
#include <chrono>
#include <functional>
#include <string>

using namespace tavro::wintest;

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: TavroBoostClient <COM> <seconds> <tag>\n");
        return 2;
    }
    const std::string com = argv[1];
    const auto seconds = std::chrono::seconds(atoi(argv[2]));
    const std::string command = Sentence(std::string("PMTK000,") + argv[3]);
    const std::string title = "TavroBoostClient " + com;
    TestReport report(title.c_str());

    namespace asio = boost::asio;
    asio::io_context io;
    asio::serial_port port(io);
    boost::system::error_code error;
    port.open(com, error);
    if (!report.Check(!error, "serial_port::open(%s): %s", com.c_str(), error.message().c_str())) {
        return report.Finish();
    }
    port.set_option(asio::serial_port_base::baud_rate(4800), error);
    report.Check(!error, "baud_rate 4800: %s", error.message().c_str());
    port.set_option(asio::serial_port_base::character_size(8), error);
    port.set_option(asio::serial_port_base::parity(asio::serial_port_base::parity::none), error);
    port.set_option(asio::serial_port_base::stop_bits(asio::serial_port_base::stop_bits::one),
                    error);
    port.set_option(
        asio::serial_port_base::flow_control(asio::serial_port_base::flow_control::none), error);
    report.Check(!error, "character size, parity, stop bits, flow control");

    SentenceStream stream;
    std::array<char, 512> buffer;
    size_t reads = 0;
    size_t singleBytes = 0;
    bool readFailed = false;
    std::function<void(const boost::system::error_code&, size_t)> onRead =
        [&](const boost::system::error_code& result, size_t count) {
            if (result) {
                readFailed = result != asio::error::operation_aborted;
                return;
            }
            ++reads;
            singleBytes += count == 1 ? 1 : 0;
            stream.Add(buffer.data(), count);
            port.async_read_some(asio::buffer(buffer), onRead);
        };
    port.async_read_some(asio::buffer(buffer), onRead);

    bool written = false;
    asio::steady_timer timer(io, seconds);
    timer.async_wait([&](const boost::system::error_code&) {
        asio::async_write(port, asio::buffer(command),
                          [&](const boost::system::error_code& result, size_t count) {
                              written = !result && count == command.size();
                              port.cancel(); // ends the pending read
                          });
    });
    io.run_for(seconds + std::chrono::seconds(10));
    report.Check(io.stopped(), "the reads and the write ended: nothing hangs");
    report.Check(written, "async_write wrote the command");
    report.Check(!readFailed, "no read failed");
    report.Check(reads != 0 && singleBytes * 10 <= reads,
                 "reads return bursts: %u reads, %u of a single byte", static_cast<unsigned>(reads),
                 static_cast<unsigned>(singleBytes));
    report.Check(stream.Sentences() >= static_cast<size_t>(seconds.count()) * 3,
                 "%u whole sentences", static_cast<unsigned>(stream.Sentences()));
    report.Check(stream.Broken() == 0 && stream.OutOfOrder() == 0,
                 "none broken (%u), none out of order (%u)", static_cast<unsigned>(stream.Broken()),
                 static_cast<unsigned>(stream.OutOfOrder()));
    port.close(error);
    report.Check(!error, "serial_port::close");
    return report.Finish();
}
