namespace configtool {}
