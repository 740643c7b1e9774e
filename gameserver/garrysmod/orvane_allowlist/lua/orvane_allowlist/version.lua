-- The addon's version: in the log at start and in the release zip's name.
return "1.0.0"
