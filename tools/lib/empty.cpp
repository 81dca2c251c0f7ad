// Keeps the tool-support library non-empty before any tool code exists.
namespace trevan_tools { int tool_support_anchor = 0; }
