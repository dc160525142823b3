#include "framework/CPtrList.h"

#include <new>

#include "framework/ThrowHelpers.h"

using btreeimg::detail::throwInvalidArgument;
using btreeimg::detail::throwMemoryError;

// A block of nodes handed out one at a time through the free list.
struct CPtrList::Block {
  Block* next;
  // Node storage follows the header.
  Node* nodes() { return reinterpret_cast<Node*>(this + 1); }
};

CPtrList::CPtrList(int nBlockSize) : blockSize_(nBlockSize > 0 ? nBlockSize : 10) {}

CPtrList::~CPtrList() { RemoveAll(); }

CPtrList::Node* CPtrList::newNode(Node* prev, Node* next, void* element) {
  if (free_ == nullptr) {
    void* raw = ::operator new(sizeof(Block) + sizeof(Node) * blockSize_,
                               std::nothrow);
    if (raw == nullptr) throwMemoryError();
    Block* block = static_cast<Block*>(raw);
    block->next = blocks_;
    blocks_ = block;
    Node* nodes = block->nodes();
    for (int i = blockSize_ - 1; i >= 0; --i) {
      nodes[i].next = free_;
      free_ = &nodes[i];
    }
  }
  Node* node = free_;
  free_ = free_->next;
  node->prev = prev;
  node->next = next;
  node->data = element;
  ++count_;
  return node;
}

void CPtrList::freeNode(Node* node) {
  node->next = free_;
  node->prev = nullptr;
  node->data = nullptr;
  free_ = node;
  if (--count_ == 0) RemoveAll();
}

void CPtrList::RemoveAll() {
  while (blocks_ != nullptr) {
    Block* next = blocks_->next;
    ::operator delete(blocks_);
    blocks_ = next;
  }
  head_ = tail_ = free_ = nullptr;
  count_ = 0;
}

void*& CPtrList::GetHead() {
  if (head_ == nullptr) throwInvalidArgument("CPtrList::GetHead on empty list");
  return head_->data;
}

void* CPtrList::GetHead() const {
  if (head_ == nullptr) throwInvalidArgument("CPtrList::GetHead on empty list");
  return head_->data;
}

void*& CPtrList::GetTail() {
  if (tail_ == nullptr) throwInvalidArgument("CPtrList::GetTail on empty list");
  return tail_->data;
}

void* CPtrList::GetTail() const {
  if (tail_ == nullptr) throwInvalidArgument("CPtrList::GetTail on empty list");
  return tail_->data;
}

void* CPtrList::RemoveHead() {
  if (head_ == nullptr) throwInvalidArgument("CPtrList::RemoveHead on empty list");
  void* element = head_->data;
  RemoveAt(head_);
  return element;
}

void* CPtrList::RemoveTail() {
  if (tail_ == nullptr) throwInvalidArgument("CPtrList::RemoveTail on empty list");
  void* element = tail_->data;
  RemoveAt(tail_);
  return element;
}

POSITION CPtrList::AddHead(void* element) {
  Node* node = newNode(nullptr, head_, element);
  if (head_ != nullptr) head_->prev = node; else tail_ = node;
  head_ = node;
  return node;
}

POSITION CPtrList::AddTail(void* element) {
  Node* node = newNode(tail_, nullptr, element);
  if (tail_ != nullptr) tail_->next = node; else head_ = node;
  tail_ = node;
  return node;
}

void CPtrList::AddTail(CPtrList* other) {
  if (other == nullptr) return;
  const int n = other->GetCount();  // stable even when other == this
  POSITION pos = other->GetHeadPosition();
  for (int i = 0; i < n; ++i) AddTail(other->GetNext(pos));
}

void CPtrList::AddHead(CPtrList* other) {
  if (other == nullptr) return;
  const int n = other->GetCount();
  POSITION pos = other->GetTailPosition();
  for (int i = 0; i < n; ++i) AddHead(other->GetPrev(pos));
}

POSITION CPtrList::InsertBefore(POSITION position, void* element) {
  if (position == nullptr) return AddHead(element);
  Node* at = static_cast<Node*>(position);
  Node* node = newNode(at->prev, at, element);
  if (at->prev != nullptr) at->prev->next = node; else head_ = node;
  at->prev = node;
  return node;
}

POSITION CPtrList::InsertAfter(POSITION position, void* element) {
  if (position == nullptr) return AddTail(element);
  Node* at = static_cast<Node*>(position);
  Node* node = newNode(at, at->next, element);
  if (at->next != nullptr) at->next->prev = node; else tail_ = node;
  at->next = node;
  return node;
}

void CPtrList::RemoveAt(POSITION position) {
  if (position == nullptr) throwInvalidArgument("CPtrList::RemoveAt null position");
  Node* node = static_cast<Node*>(position);
  if (node->prev != nullptr) node->prev->next = node->next; else head_ = node->next;
  if (node->next != nullptr) node->next->prev = node->prev; else tail_ = node->prev;
  freeNode(node);
}

void*& CPtrList::GetNext(POSITION& position) {
  Node* node = static_cast<Node*>(position);
  position = node->next;
  return node->data;
}

void* CPtrList::GetNext(POSITION& position) const {
  Node* node = static_cast<Node*>(position);
  position = node->next;
  return node->data;
}

void*& CPtrList::GetPrev(POSITION& position) {
  Node* node = static_cast<Node*>(position);
  position = node->prev;
  return node->data;
}

void* CPtrList::GetPrev(POSITION& position) const {
  Node* node = static_cast<Node*>(position);
  position = node->prev;
  return node->data;
}

void*& CPtrList::GetAt(POSITION position) {
  return static_cast<Node*>(position)->data;
}

void* CPtrList::GetAt(POSITION position) const {
  return static_cast<Node*>(position)->data;
}

void CPtrList::SetAt(POSITION position, void* element) {
  static_cast<Node*>(position)->data = element;
}

POSITION CPtrList::FindIndex(INT_PTR index) const {
  if (index < 0 || index >= count_) return nullptr;
  Node* node = head_;
  while (index-- > 0) node = node->next;
  return node;
}

POSITION CPtrList::Find(void* value, POSITION startAfter) const {
  Node* node = startAfter ? static_cast<Node*>(startAfter)->next : head_;
  for (; node != nullptr; node = node->next) {
    if (node->data == value) return node;
  }
  return nullptr;
}
