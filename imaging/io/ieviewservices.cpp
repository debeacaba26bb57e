#include "ieviewservices.h"

#include <atomic>

namespace {
// Set before main in a program that links the view; read from the I/O threads too.
std::atomic<TIEViewServices*> g_viewServices{nullptr};
}  // namespace

TIEViewServices* IEViewServices() { return g_viewServices.load(std::memory_order_acquire); }

void IESetViewServices(TIEViewServices* services) { g_viewServices.store(services, std::memory_order_release); }
