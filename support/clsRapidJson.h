// RapidJSON types for every JSON reader and writer of this code base.
//
// RapidJSON 1.1 checks whether one of its working stacks (the parser's, the document builder's,
// the string buffer's and the writer's nesting stack) has room by adding the size wanted to the
// stack's top pointer, which is null until the stack first grows: undefined behaviour that
// clang's sanitizer reports ("applying non-zero offset 16 to null pointer"). Stacks built with
// the allocator type below measure their free room instead, so they are well defined from the
// first value on. Use these aliases instead of rapidjson::Document, Reader, StringBuffer and
// Writer.
#pragma once

#include <cstddef>

#include <rapidjson/allocators.h>
#include <rapidjson/internal/stack.h>

namespace zumvo {

// The C heap, as RapidJSON's CrtAllocator, under a type of our own for the stacks.
struct TJsonStackAllocator : rapidjson::CrtAllocator {};

} // namespace zumvo

namespace rapidjson::internal {

template <>
template <typename T>
RAPIDJSON_FORCEINLINE void Stack<zumvo::TJsonStackAllocator>::Reserve(size_t count) {
    // stackEnd_ - stackTop_ is 0 for a stack without memory; no offset is applied to null.
    if (RAPIDJSON_UNLIKELY(static_cast<std::ptrdiff_t>(sizeof(T) * count) > stackEnd_ - stackTop_))
        Expand<T>(count);
}

} // namespace rapidjson::internal

#include <rapidjson/document.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace zumvo {

using TRapidDocument =
    rapidjson::GenericDocument<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<>, TJsonStackAllocator>;
using TRapidReader = rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, TJsonStackAllocator>;
using TRapidStringBuffer = rapidjson::GenericStringBuffer<rapidjson::UTF8<>, TJsonStackAllocator>;
using TRapidWriter =
    rapidjson::Writer<TRapidStringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, TJsonStackAllocator>;

} // namespace zumvo
