#include "service/SocketOptions.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <boost/asio/detail/socket_option.hpp>

namespace dct {

namespace {

// TCP_DEFER_ACCEPT as an Asio socket option.
using TDeferAccept = boost::asio::detail::socket_option::integer<IPPROTO_TCP, TCP_DEFER_ACCEPT>;

}  // namespace

// SO_REUSEADDR: on POSIX systems it never lets two sockets listen on one port.
void AllowPortReuse(boost::asio::ip::tcp::acceptor& Acceptor, boost::system::error_code& Ec) {
  Acceptor.set_option(boost::asio::socket_base::reuse_address(true), Ec);
}

void DeferAcceptUntilData(boost::asio::ip::tcp::acceptor& Acceptor, int Seconds) {
  boost::system::error_code ignored;
  Acceptor.set_option(TDeferAccept(Seconds), ignored);
}

}  // namespace dct
