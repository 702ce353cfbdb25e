void Placeholder() {}
