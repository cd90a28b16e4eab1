// The smallest host of the plug-in: creates Pullwire.Toolbox by its ProgID (register it first
// with `pullwire register`), executes the command record given as 24 arguments and exits 1
// when the run's Error is True. README's host snippet is this file's middle part; it is built
// with the tree and run by the tests, so the snippet keeps compiling and working.
#include <cstdio>
#include <string>
#include <vector>

#include "com/activation.h"
#include "com/com_ptr.h"
#include "com/error_info.h"
#include "pullwire/toolbox.h"

int main(int argc, char** argv) {
  if (argc != 25) {
    std::fprintf(stderr, "usage: %s SLOT1 ... SLOT24 (the command record's texts)\n", argv[0]);
    return 2;
  }
  const std::vector<std::string> texts(argv + 1, argv + argc);

  pullwire::com::ComPtr<pullwire::_Toolbox> box;
  if (pullwire::com::Failed(pullwire::com::CreateObject("Pullwire.Toolbox", pullwire::IID__Toolbox,
                                                          box.ReceiveVoid()))) {
    std::fprintf(stderr, "Pullwire.Toolbox is not registered\n");
    return 2;
  }
  box->put_AutoLog(pullwire::com::kVariantTrue);
  box->put_dInstance("2");  // messages go to the daemon nrvd2.IPCdaemon
  box->Init();
  std::string version;
  box->get_Version(&version);  // "4.5.0"
  pullwire::com::StringArray record(texts /* 24 strings */, 1);
  box->Execute("PULLWIRE", record, nullptr);
  pullwire::com::VariantBool failed;
  box->get_Error(&failed);

  std::printf("Pullwire %s: the run %s\n", version.c_str(), failed.IsTrue() ? "failed" : "succeeded");
  return failed.IsTrue() ? 1 : 0;
}
