// The listening socket's options whose calls differ between systems.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

namespace dct {

// Lets a restarted server bind its port again while connections of the last run still
// linger in TIME_WAIT; a port that another socket listens on stays refused. Sets Ec.
// REQUIRES: Acceptor is open and not yet bound.
void AllowPortReuse(boost::asio::ip::tcp::acceptor& Acceptor, boost::system::error_code& Ec);

// Hands a connection over only once its first bytes have arrived, or after Seconds without
// any. Where the system lacks this, connections are handed over at once, which is only
// slower; no error is reported.
void DeferAcceptUntilData(boost::asio::ip::tcp::acceptor& Acceptor, int Seconds);

}  // namespace dct
