#ifndef DIAG_HOST_NAGIOS_RANGE_H
#define DIAG_HOST_NAGIOS_RANGE_H

#include <string>

// A threshold in the monitoring plug-ins' range syntax, "[@][START:][END]": START defaults to 0,
// "~" as START means no lower bound, an empty END no upper bound. A value outside START..END
// (inclusive) alerts; with "@", a value inside does.
class NagiosRange {
 public:
  // Reads `text`; false when it is not a range (or START exceeds END).
  bool Parse(const std::string& text);

  bool Alerts(double value) const;

  const std::string& text() const { return text_; }

 private:
  std::string text_;
  bool inside_ = false;
  bool hasLow_ = true;
  double low_ = 0;
  bool hasHigh_ = false;
  double high_ = 0;
};

#endif  // DIAG_HOST_NAGIOS_RANGE_H
