// torvane-transfer: product and sales transfers with the scales, from the
// command line or a timer, several scales at once.  See --help.
#include "TransferCommand.h"

#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace {

std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onStopSignal(int)
{
    g_stop.store(true);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Ctrl-C and systemd's stop: every transfer ends after its current
    // product, closes its port and is reported.
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return torvane::transfer::RunTransferCommand(args, stdout, stderr, ::isatty(STDOUT_FILENO) != 0, &g_stop);
}
