#include "service/SocketOptions.h"

namespace dct {

// No option at all, which on Windows is what both halves of the contract need:
// - a restart binds: a listener without options binds past the connections that the last
//   run accepted, whether they sit in TIME_WAIT or still linger (a terminal that vanished
//   mid-call), since Windows 2000. SO_EXCLUSIVEADDRUSE would refuse exactly that bind until
//   those connections are gone, minutes later, so "net stop" then "net start" could fail.
// - the port stays ours: since Windows Server 2003 a second socket, even with SO_REUSEADDR,
//   cannot bind a port that a socket without SO_REUSEADDR holds, and a second listener on
//   the same address fails the start with "address in use". What remains open is a program
//   of the service's own account binding one specific address of the port, and such a
//   program can stop the service anyway. SO_REUSEADDR is never set: it would hand the port
//   to any taker.
void AllowPortReuse(boost::asio::ip::tcp::acceptor& /*Acceptor*/, boost::system::error_code& Ec) {
  Ec.clear();
}

// Windows has no deferred accept for a listening socket (its AcceptEx with a receive buffer
// would change how connections are taken): connections are handed over at once.
void DeferAcceptUntilData(boost::asio::ip::tcp::acceptor& /*Acceptor*/, int /*Seconds*/) {}

}  // namespace dct
