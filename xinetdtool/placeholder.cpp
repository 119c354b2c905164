namespace xinetdtool {}
