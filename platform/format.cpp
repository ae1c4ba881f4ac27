#include "platform/format.h"

namespace lanfeed {
namespace {

// Appends characters while room remains; remembers whether anything was cut.
class Output {
 public:
  Output(WChar* buffer, std::size_t capacity) : buffer_(buffer), limit_(capacity - 1) {}
  void Put(WChar c) {
    if (length_ < limit_) buffer_[length_++] = c;
    else truncated_ = true;
  }
  void PutNarrow(const char* s) {
    for (; *s != 0; ++s) Put(static_cast<WChar>(static_cast<unsigned char>(*s)));
  }
  void PutWide(const WChar* s) {
    for (; *s != 0; ++s) Put(*s);
  }
  int Finish() {
    buffer_[length_] = 0;
    return truncated_ ? -1 : static_cast<int>(length_);
  }

 private:
  WChar* buffer_;
  std::size_t limit_;
  std::size_t length_ = 0;
  bool truncated_ = false;
};

void PutUnsigned(Output& out, unsigned long long value) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out.Put(static_cast<WChar>(digits[--n]));
}

}  // namespace

int FormatTextArgs(WChar* buffer, std::size_t capacity, const WChar* format,
                   const FormatArg* args, std::size_t count) {
  if (buffer == nullptr || capacity == 0) return -1;
  Output out(buffer, capacity);
  if (format == nullptr) return out.Finish();
  std::size_t next = 0;
  for (const WChar* p = format; *p != 0; ++p) {
    if (*p != '%') {
      out.Put(*p);
      continue;
    }
    WChar conv = p[1];
    if (conv == '%') {
      out.Put('%');
      ++p;
      continue;
    }
    const FormatArg* arg = next < count ? &args[next] : nullptr;
    bool done = false;
    switch (conv) {
      case 'd':
      case 'i':
        if (arg && arg->kind == FormatArg::Kind::kInt) {
          // %d prints the argument as a 32-bit signed value, as on the device.
          long long v = static_cast<int32_t>(arg->integer);
          if (v < 0) {
            out.Put('-');
            PutUnsigned(out, static_cast<unsigned long long>(-v));
          } else {
            PutUnsigned(out, static_cast<unsigned long long>(v));
          }
          done = true;
        }
        break;
      case 'u':
        if (arg && arg->kind == FormatArg::Kind::kInt) {
          PutUnsigned(out, static_cast<uint32_t>(arg->integer));
          done = true;
        }
        break;
      case 's':
        if (arg && arg->kind == FormatArg::Kind::kWide) {
          if (arg->wide) out.PutWide(arg->wide);
          else out.PutNarrow("(null)");
          done = true;
        }
        break;
      case 'S':
        if (arg && arg->kind == FormatArg::Kind::kNarrow) {
          out.PutNarrow(arg->narrow ? arg->narrow : "(null)");
          done = true;
        }
        break;
      default:
        break;
    }
    if (done) {
      ++next;
      ++p;
    } else {
      out.Put('%');  // unknown or mismatched conversion: written literally
    }
  }
  return out.Finish();
}

}  // namespace lanfeed
