// The floor for the HTTP benchmark: the least a server can do per request on a new
// connection. One blocking thread per core accepts, reads the request (header and
// Content-Length body), writes a canned answer of the size of an Echo answer, and closes.
// Prints "LISTENING <port>" and serves until standard input closes.
#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

std::string CannedAnswer() {
  const std::string body(1200, 'x');  // about the size of an Echo answer
  return "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nConnection: close\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

void Serve(tcp::acceptor& acceptor, const std::string& answer) {
  for (;;) {
    boost::system::error_code ec;
    tcp::socket socket = acceptor.accept(ec);
    if (ec) {
      if (!acceptor.is_open()) return;
      continue;
    }
    std::string request;
    const size_t header = net::read_until(socket, net::dynamic_buffer(request), "\r\n\r\n", ec);
    if (ec) continue;
    size_t length = 0;
    const size_t at = request.find("Content-Length:");
    if (at != std::string::npos && at < header) length = std::strtoul(request.c_str() + at + 15, nullptr, 10);
    if (request.size() < header + length) {
      net::read(socket, net::dynamic_buffer(request), net::transfer_exactly(header + length - request.size()),
                ec);
    }
    net::write(socket, net::buffer(answer), ec);
    socket.shutdown(tcp::socket::shutdown_send, ec);
  }
}

}  // namespace

int main() {
  net::io_context context;
  tcp::acceptor acceptor(context, tcp::endpoint(net::ip::address_v4::loopback(), 0));
  acceptor.listen(net::socket_base::max_listen_connections);
  std::cout << "LISTENING " << acceptor.local_endpoint().port() << std::endl;
  const std::string answer = CannedAnswer();
  const unsigned threads = std::max(2u, std::thread::hardware_concurrency());
  std::vector<std::thread> workers;
  for (unsigned i = 0; i < threads; ++i) workers.emplace_back([&] { Serve(acceptor, answer); });
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  std::_Exit(0);  // the workers block in accept; the process ends with them
}
