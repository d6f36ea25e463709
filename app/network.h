#pragma once
// The network operations the window's logic uses, behind an interface so
// that tests can play the network without sockets.

#include <string>

#include "net/interfaces.h"

class INetwork {
 public:
  virtual ~INetwork() = default;
  virtual InterfaceList EnumerateInterfaces() = 0;
  virtual bool OpenNetwork(const std::string& dotted) = 0;
  virtual bool RequestBootSearch() = 0;
  virtual bool RequestAppSearch() = 0;
};

// The real sockets.
class CSystemNetwork : public INetwork {
 public:
  InterfaceList EnumerateInterfaces() override;
  bool OpenNetwork(const std::string& dotted) override;
  bool RequestBootSearch() override;
  bool RequestAppSearch() override;
};
