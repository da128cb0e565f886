// The per-character classification record that CheckChar returns and the type library
// publishes. Contract: fields in this order; every flag a rule does not set is False.
#pragma once

#include <string>

namespace corvane {

struct ParenCheck {
  std::u16string strCurrentChar;
  std::u16string strPrevChar;
  std::u16string strNextChar;
  bool bIsLeftParen = false;
  bool bIsRightParen = false;
  bool bIsEmptyParens = false;
  bool bIsArgSeparator = false;
  bool bIsStringLiteral = false;
  bool bIsNotParen = false;

  friend bool operator==(const ParenCheck&, const ParenCheck&) = default;
};

}  // namespace corvane
