// quorvane-installer: started by the system with a "pavix:" address.
#include "app/Form1.h"
#include "platform/Process.h"

int main(int argc, char** argv) {
  qv::platform::InitProcess(argc, argv);
  qv::Form1 form;
  form.Form_Load();  // ends the process
  return qv::Form1::kExitStopped;
}
