// Lets the window quit its normal way (removing its open marker) when the
// session ends it with SIGTERM, SIGINT or SIGHUP.
#pragma once

namespace qzm::statusinfo {

// Routes the three signals to QCoreApplication::quit(); call once after the
// application object exists.
void _QuitOnTerminationSignals();

}  // namespace qzm::statusinfo
