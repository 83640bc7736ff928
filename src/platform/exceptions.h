#pragma once
// The exception family of the platform classes. Everything the platform layer throws is a
// CException; the core catches exactly the kinds it is meant to.

#include <exception>

#include "platform/types.h"

namespace tarvo {

class CException : public std::exception {
 public:
  const char* what() const noexcept override { return "platform exception"; }
};

// Memory could not be had.
class CMemoryException : public CException {
 public:
  const char* what() const noexcept override { return "out of memory"; }
};

// A file operation failed. `m_lOsError` holds the system's error number where there is one.
class CFileException : public CException {
 public:
  explicit CFileException(long osError = 0) : m_lOsError(osError) {}
  const char* what() const noexcept override { return "file operation failed"; }
  long m_lOsError;
};

// An Internet operation failed. `m_dwContext` is the context value of the failed operation.
class CInternetException : public CException {
 public:
  explicit CInternetException(DWORD context = 0, DWORD error = 0)
      : m_dwContext(context), m_dwError(error) {}
  const char* what() const noexcept override { return "internet operation failed"; }
  DWORD m_dwContext;
  DWORD m_dwError;
};

}  // namespace tarvo
