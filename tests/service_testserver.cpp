// A stand-in for the host program in tests: enables the single device, with the real HTTP
// listener, on the given port (0: any free one) and data root, prints
// "LISTENING <port>" on standard output, and serves until standard input closes.
//
//   service_testserver --port N --data-root DIR
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "device/uDevice.h"
#include "service/HTTPBridge.h"
#include "service/ufmWebModule.h"
#include "support/uCommonUtils.h"
#include "support/uProcessMemory.h"

int main(int argc, char** argv) {
  int port = 0;
  std::string root;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--port") port = std::atoi(argv[i + 1]);
    if (option == "--data-root") root = argv[i + 1];
  }
  if (root.empty() || port < 0 || port > 65535) {
    std::cerr << "usage: service_testserver --port N --data-root DIR\n";
    return 2;
  }
  dct::ConfigureServerAllocator();  // as the real program does
  dct::SetCommonAppDataRoot(root);
  dct::TDeviceContext context;
  const dct::TWebModule1 module(context);
  dct::THTTPBridge listener([&module](dct::TWebRequest& request) { return module.HandleRequest(request); });
  listener.SetPort(static_cast<uint16_t>(port));
  context.SetListenerSwitch(&listener);
  context.CreateSingleDevice();
  int code = -1;
  try {
    code = context.GetSingleDevice()->Enable();
  } catch (const std::exception& e) {
    std::cerr << "enable raised: " << e.what() << "\n";
    return 1;
  }
  if (code != 0) {
    std::cerr << "enable failed: " << code << " "
              << context.GetSingleDevice()->GetResultDescription(code) << "\n";
    return 1;
  }
  std::cout << "LISTENING " << listener.BoundPort() << std::endl;

  std::string line;
  while (std::getline(std::cin, line)) {
  }
  context.FreeSingleDevice();  // disables: the listener stops with the last device
  context.SetListenerSwitch(nullptr);
  return 0;
}
