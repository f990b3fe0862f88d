// ZKselector: opens a project document in the installed pricing program of
// its product. Exit status 0 after a launch, 1 after a message box, 2 after an
// error nobody caught (reported by the handler of unhandled errors).
#include <exception>

#include "platform/os/MessageBox.h"
#include "platform/os/Process.h"
#include "platform/rtl/Exception.h"
#include "selector/Launcher.h"
#include "selector/ProductName.h"

int main(int argc, char** argv) {
  try {
    zk::os::SetProcessArguments(argc, argv);
    return zk::RunLauncher(zk::ReadProductName);
  } catch (const zk::Exception& e) {
    zk::os::MessageBox().ShowUnhandledError(e.Message);
  } catch (const std::exception& e) {
    zk::os::MessageBox().ShowUnhandledError(e.what());
  } catch (...) {
    zk::os::MessageBox().ShowUnhandledError("unknown error");
  }
  return 2;
}
