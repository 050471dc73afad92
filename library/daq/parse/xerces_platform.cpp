// The process-wide Xerces platform and the hardening of every parser the
// libraries build.
#include "xerces_platform.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <xercesc/util/PanicHandler.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "messages.h"
#include "qal3_xml_platform.h"

namespace qal3 {
namespace xerces {

std::string transcoded(const XMLCh* text) {
  std::string out;
  if (!text) return out;
  char* s = xercesc::XMLString::transcode(text);
  if (s) {
    try {
      out = s;
    } catch (...) {
      out.clear();
    }
    xercesc::XMLString::release(&s);
  }
  return out;
}

namespace {

// Set once the first Initialize of the process failed half-way.
std::atomic<bool> g_platform_unusable{false};

// Xerces' default panic handler ends the process (when memory runs out
// while the platform is set up, for one). This one throws instead, so that
// the call that met the panic fails. It has no state: threads may share it.
class ThrowingPanicHandler final : public xercesc::PanicHandler {
 public:
  void panic(const PanicReasons reason) override { throw reason; }
};

ThrowingPanicHandler g_panic_handler;

// Held around every Initialize and Terminate the library makes.
std::mutex& platform_mutex() {
  static std::mutex mutex;
  return mutex;
}

void report_initialization(const XMLCh* message) {
  const std::string text = transcoded(message);
  const std::string raw = "Error during initialization! Message:\n" + text + "\n";
  const std::string line = "Error during initialization! Message: " + text;
  qal3::messages::send(qal3::messages::err, qal3::messages::error, line.c_str(), line.size(), qal3::messages::flush,
                       raw.data(), raw.size());
}

// Calls `report`, which prints, and swallows what printing may throw.
void report_quietly(void (*report)(const XMLCh*), const XMLCh* message) {
  if (!report) return;
  try {
    report(message);
  } catch (...) {
  }
}

}  // namespace

bool initialize_platform(void (*report)(const XMLCh* message)) {
  std::unique_lock<std::mutex> lock(platform_mutex());
  if (!g_platform_unusable.load()) {
    try {
      // The panic handler counts only if this is the process's first
      // Initialize; an application that set Xerces up keeps its own.
      xercesc::XMLPlatformUtils::Initialize(xercesc::XMLUni::fgXercescDefaultLocale, nullptr, &g_panic_handler);
      // The library keeps one platform reference of its own for the rest of
      // the process, so that reading one small document after another does
      // not tear Xerces down and set it up again each time.
      static const bool held = (xercesc::XMLPlatformUtils::Initialize(), true);
      (void)held;
      return true;
    } catch (const xercesc::XMLException& e) {
      g_platform_unusable = true;
      report_quietly(report, e.getMessage());
    } catch (...) {
      g_platform_unusable = true;
      report_quietly(report, nullptr);
    }
    // The failed Initialize has counted itself, so Xerces takes the
    // half-built platform for ready from now on, and Terminate would crash
    // tearing it down. Hold it for good: the caller's Terminate only counts.
    xercesc::XMLPlatformUtils::Initialize();
    lock.unlock();
    return false;
  }
  xercesc::XMLPlatformUtils::Initialize();  // only counts: the platform is held
  lock.unlock();
  report_quietly(report, nullptr);
  return false;
}

void release_platform() {
  const std::lock_guard<std::mutex> lock(platform_mutex());
  xercesc::XMLPlatformUtils::Terminate();
}

bool initialize_platform() { return initialize_platform(report_initialization); }

}  // namespace xerces
}  // namespace qal3

int qal3_xml_platform_acquire(void) { return qal3::xerces::initialize_platform() ? 1 : 0; }

void qal3_xml_platform_release(void) { qal3::xerces::release_platform(); }
