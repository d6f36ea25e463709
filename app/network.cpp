#include "app/network.h"

#include "net/network_session.h"
#include "net/requests.h"

InterfaceList CSystemNetwork::EnumerateInterfaces() {
  return ::EnumerateInterfaces();
}
bool CSystemNetwork::OpenNetwork(const std::string& dotted) {
  return ::OpenNetwork(dotted);
}
bool CSystemNetwork::RequestBootSearch() {
  return ::RequestBootSearch();
}
bool CSystemNetwork::RequestAppSearch() {
  return ::RequestAppSearch();
}
