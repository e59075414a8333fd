#include "service/SocketOptions.h"

#include <winsock2.h>

#include <boost/asio/detail/socket_option.hpp>

namespace dct {

namespace {

using TExclusiveAddressUse = boost::asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;

}  // namespace

// Windows binds a listener past connections left in TIME_WAIT without any option, and its
// SO_REUSEADDR would let a second socket take a port that we listen on: the port is claimed
// exclusively instead, so a taken port still fails the start.
void AllowPortReuse(boost::asio::ip::tcp::acceptor& Acceptor, boost::system::error_code& Ec) {
  Acceptor.set_option(TExclusiveAddressUse(true), Ec);
}

// Windows has no deferred accept for a listening socket (its AcceptEx with a receive buffer
// would change how connections are taken): connections are handed over at once.
void DeferAcceptUntilData(boost::asio::ip::tcp::acceptor& /*Acceptor*/, int /*Seconds*/) {}

}  // namespace dct
