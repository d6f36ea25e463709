#include "app/qt/quorvik_app.h"

int main(int argc, char** argv) {
  CQuorvikApp app(argc, argv);
  return app.Run();
}
