#include "app/ZorvelAppDelegate.h"
#include "app/ZorvelApplication.h"

int main(int argc, char* argv[]) {
  auto application = zorvel::ZorvelApplication::create();
  auto delegate = std::make_shared<zorvel::ZorvelAppDelegate>();
  application->setDelegate(delegate);
  return application->run(argc, argv);
}
