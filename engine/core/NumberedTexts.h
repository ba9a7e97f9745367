#pragma once

// Count texts made from one pattern with the numbers 1..Count put in place of its "%d", each
// cut to Size bytes with its terminator, and a table of pointers to them (for value-name
// tables). Made once as a function-local static, so the texts live as long as the module.
template <int Count, int Size>
struct NumberedTexts {
  char texts[Count][Size];
  const char* names[Count];

  explicit NumberedTexts(const char* pattern) {
    for (int i = 0; i < Count; ++i) {
      fill(texts[i], pattern, i + 1);
      names[i] = texts[i];
    }
  }

 private:
  static void fill(char* out, const char* pattern, int number) {
    char digits[12];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + number % 10);
      number /= 10;
    } while (number > 0);
    int k = 0;
    for (const char* p = pattern; *p != '\0' && k < Size - 1; ++p) {
      if (p[0] == '%' && p[1] == 'd') {
        for (int d = n - 1; d >= 0 && k < Size - 1; --d) out[k++] = digits[d];
        ++p;
      } else {
        out[k++] = *p;
      }
    }
    out[k] = '\0';
  }
};
