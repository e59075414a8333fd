// The real program as a child process, a plain HTTP client for it, and the in-process
// floors of a catalogue load and download, shared by the benchmarks that drive the program.
//
// TProgram starts the program on a free port with a data root of its own and stops it with
// SIGTERM, as systemd would; its peak resident size is read from /proc. Call posts one
// ExecuteCommand on a new connection and gives the answer's body; every socket operation
// has a deadline, so a benchmark ends by itself even when the server stops answering.
//
// The floors do what no server can avoid for the same work: FloorLoad parses the value text
// with pugixml and replaces the stored rows with bare SQLite in one transaction;
// FloorDownload reads every row back and serialises the value document.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pugixml.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace dct::bench {

using Clock = std::chrono::steady_clock;

// Longest wait for one socket operation: a million-item load takes seconds, not minutes.
constexpr int kSocketTimeoutSeconds = 300;

[[noreturn]] inline void Fail(const std::string& what) {
  std::cerr << "benchmark failed: " << what << "\n";
  std::exit(1);
}

inline double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

inline std::string EscapeText(const std::string& s) {
  std::string out;
  out.reserve(s.size() + s.size() / 8);
  for (char c : s) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '\r': out += "&#13;"; break;
      default: out += c;
    }
  }
  return out;
}

inline std::string ExecuteCommandBody(const std::string& command, const std::string& valueText) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
         "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:ns1=\"urn:uSvcIntf-IMobileDCT\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><SOAP-ENV:Body><ns1:ExecuteCommand>"
         "<DeviceID xsi:type=\"xsd:string\">0</DeviceID><CommandName xsi:type=\"xsd:string\">" +
         command + "</CommandName><InputParameters xsi:type=\"xsd:string\">" + EscapeText(valueText) +
         "</InputParameters></ns1:ExecuteCommand></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

inline sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

// One POST on a new connection; returns the size of the answer's body. Fails unless status
// 200 and ResultCode 0. The answer is read into a buffer kept from call to call (LastAnswer),
// so that the client's own allocation and copying stay out of the timed figures.
inline std::string& LastAnswer() {
  static std::string answer;  // the status line, the header and the body
  return answer;
}

inline size_t Call(int port, const std::string& body) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = Loopback(port);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) Fail("connect");
  timeval timeout{kSocketTimeoutSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  const std::string head =
      "POST /soap/IMobileDCT HTTP/1.1\r\nHost: 127.0.0.1\r\n"
      "Content-Type: text/xml; charset=utf-8\r\n"
      "SOAPAction: \"urn:uSvcIntf-IMobileDCT#ExecuteCommand\"\r\n"
      "Connection: close\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\n\r\n";
  for (const std::string* part : {&head, &body}) {
    for (size_t sent = 0; sent < part->size();) {
      ssize_t n = ::send(fd, part->data() + sent, part->size() - sent, MSG_NOSIGNAL);
      if (n <= 0) Fail("send");
      sent += static_cast<size_t>(n);
    }
  }
  std::string& response = LastAnswer();
  response.clear();
  static char chunk[1 << 20];
  for (;;) {
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0) Fail("recv (no answer in time?)");
    if (n == 0) break;
    response.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  if (response.compare(0, 12, "HTTP/1.1 200") != 0) Fail("status: " + response.substr(0, 200));
  const size_t headEnd = response.find("\r\n\r\n");
  if (headEnd == std::string::npos) Fail("no end of header");
  // The result code ends the answer, after the output parameters.
  const size_t tail = response.size() > 1024 ? response.size() - 1024 : 0;
  if (response.find(">0</ResultCode>", tail) == std::string::npos) Fail("result: " + response.substr(tail));
  return response.size() - headEnd - 4;
}

// A free port: bound once by us, then given to the server.
inline int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  socklen_t size = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
    Fail("no free port");
  }
  ::close(fd);
  return ntohs(addr.sin_port);
}

inline bool Connects(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = Loopback(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// The program as a child process on a free port, stopped with SIGTERM as systemd would.
struct TProgram {
  pid_t pid = -1;
  int port = 0;

  TProgram(const std::string& program, const std::string& root) : port(FreePort()) {
    pid = ::fork();
    if (pid == 0) {
      const std::string portText = std::to_string(port);
      ::execl(program.c_str(), program.c_str(), "--port", portText.c_str(), "--data-root", root.c_str(),
              static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 300 && !Connects(port); ++i) ::usleep(100000);  // at most 30 s
    if (!Connects(port)) Fail("server did not start");
  }
  ~TProgram() {
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
  TProgram(const TProgram&) = delete;
  TProgram& operator=(const TProgram&) = delete;

  // A field of /proc/<pid>/status in kB ("VmHWM:", "VmRSS:"); 0 when absent.
  long StatusKiB(const std::string& field) const {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
      if (key == field) {
        long kb = 0;
        status >> kb;
        return kb;
      }
    }
    return 0;
  }
  // Peak resident memory since start or the last ResetPeak, in MiB.
  double PeakMiB() const { return StatusKiB("VmHWM:") / 1024.0; }
  double ResidentMiB() const { return StatusKiB("VmRSS:") / 1024.0; }
  void ResetPeak() const { std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5"; }
};

// ---------------------------------------------------------------------------------------
// Floors.

inline void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) Fail(std::string(sql) + ": " + error);
}

inline const char* const kItemsSchema =
    "CREATE TABLE IF NOT EXISTS items (barcode TEXT PRIMARY KEY, name TEXT, unit TEXT, "
    "additionaldata TEXT, series TEXT, quality TEXT, price INTEGER, quantity INTEGER, "
    "useserialnum INTEGER, useweight INTEGER, usefractvalue INTEGER)";

// Floor of a catalogue load: parse the value text, then replace the stored rows with the
// new ones in one transaction.
inline void FloorLoad(const std::string& valueText, const std::string& file) {
  pugi::xml_document doc;
  if (!doc.load_buffer(valueText.data(), valueText.size())) Fail("floor parse");
  sqlite3* db;
  sqlite3_open(file.c_str(), &db);
  Exec(db, kItemsSchema);
  Exec(db, "BEGIN");
  Exec(db, "DELETE FROM items");
  sqlite3_stmt* stmt;
  sqlite3_prepare_v2(db,
                     "INSERT OR REPLACE INTO items VALUES (:barcode, :name, :unit, :additionaldata, "
                     ":series, :quality, :price, :quantity, :useserialnum, :useweight, :usefractvalue)",
                     -1, &stmt, nullptr);
  pugi::xml_node table = doc.first_child().first_child().next_sibling();
  pugi::xml_node cell = table.first_child();
  while (cell) {
    for (int col = 0; col < 11; ++col, cell = cell.next_sibling()) {
      const char* text = cell.child_value();
      if (col < 6) {
        sqlite3_bind_text(stmt, col + 1, text, -1, SQLITE_TRANSIENT);
      } else if (col < 8) {
        sqlite3_bind_int64(stmt, col + 1,
                           static_cast<int64_t>(std::strtod(text, nullptr) * (col == 6 ? 100 : 1000)));
      } else {
        sqlite3_bind_int64(stmt, col + 1, text[0] == 'T');
      }
    }
    if (sqlite3_step(stmt) != SQLITE_DONE) Fail("floor insert");
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

inline void AppendCell(pugi::xml_node parent, const char* kind, const char* text) {
  pugi::xml_node e = parent.append_child("elm");
  e.append_attribute("t") = kind;
  if (*text) e.text() = text;
}

inline std::string Save(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  return out.str();
}

// Floor of a catalogue download: read every row, build the value document, serialise it.
inline size_t FloorDownload(const std::string& file) {
  sqlite3* db;
  sqlite3_open(file.c_str(), &db);
  sqlite3_stmt* stmt;
  sqlite3_prepare_v2(db, "SELECT * FROM items", -1, &stmt, nullptr);
  pugi::xml_document doc;
  doc.append_child(pugi::node_declaration).append_attribute("version") = "1.0";
  pugi::xml_node table = doc.append_child("sa").append_child("elm");
  table.append_attribute("t") = "A";
  int rows = 0;
  char number[32];
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    ++rows;
    for (int col = 0; col < 11; ++col) {
      if (col < 6) {
        AppendCell(table, "S", reinterpret_cast<const char*>(sqlite3_column_text(stmt, col)));
      } else if (col < 8) {
        std::snprintf(number, sizeof number, "%.15g",
                      sqlite3_column_int64(stmt, col) / (col == 6 ? 100.0 : 1000.0));
        AppendCell(table, "N", number);
      } else {
        AppendCell(table, "B", sqlite3_column_int64(stmt, col) ? "True" : "False");
      }
    }
  }
  table.append_attribute("r") = rows;
  table.append_attribute("c") = 11;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return Save(doc).size();
}

}  // namespace dct::bench
